fn_add_test(tst_layout SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_layout.cpp LIBS fn_app)
