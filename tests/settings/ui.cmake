fn_add_test(tst_savelocation SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_savelocation.cpp LIBS fn_settingsui)
fn_add_test(tst_optionswindow SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_optionswindow.cpp LIBS fn_settingsui)
