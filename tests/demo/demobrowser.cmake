fn_add_test(tst_demobrowser SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_demobrowser.cpp LIBS fn_demo Qt6::WebEngineCore)
