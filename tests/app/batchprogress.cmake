# The batch mode's progress lines and live bar, on a clock the test moves.
fn_add_test(tst_batchprogress SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_batchprogress.cpp LIBS fn_batch)
