fn_add_test(tst_about SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_about.cpp LIBS fn_about)
