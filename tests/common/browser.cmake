fn_add_test(tst_browser SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_browser.cpp LIBS fn_browser Qt6::WebEngineWidgets)
