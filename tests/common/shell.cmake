fn_add_test(tst_osname SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_osname.cpp LIBS fn_shell)
fn_add_test(tst_shell SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_shell.cpp LIBS fn_shell)
