fn_add_test(tst_faultserver SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_faultserver.cpp LIBS fn_common)
