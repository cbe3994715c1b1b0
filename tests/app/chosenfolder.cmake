fn_add_test(tst_chosenfolder SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_chosenfolder.cpp LIBS fn_app fn_demo TIMEOUT 300)
