fn_add_test(tst_downloadcommands SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_downloadcommands.cpp LIBS fn_downloadcommands)
