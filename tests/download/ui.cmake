fn_add_test(tst_downloadwindow SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_downloadwindow.cpp LIBS fn_downloadui)
fn_add_test(tst_loginpanel SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_loginpanel.cpp LIBS fn_downloadui)
