fn_add_test(tst_searchcore SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_searchcore.cpp LIBS fn_search)
fn_add_test(tst_searchwindow SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_searchwindow.cpp LIBS fn_searchui)
fn_add_test(tst_resultmetadata SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_resultmetadata.cpp LIBS fn_searchui fn_demo)
