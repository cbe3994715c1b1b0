fn_add_test(tst_searchcore SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_searchcore.cpp LIBS fn_search)
