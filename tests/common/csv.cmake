fn_add_test(tst_csv SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_csv.cpp LIBS fn_common)
