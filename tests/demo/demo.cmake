fn_add_test(tst_demosite SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_demosite.cpp LIBS fn_demo fn_common)
