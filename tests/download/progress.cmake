fn_add_test(tst_queueprogress SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_queueprogress.cpp LIBS fn_download)
fn_add_test(tst_rowspeed SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_rowspeed.cpp LIBS fn_engine)
