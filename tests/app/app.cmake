fn_add_test(tst_wholeroad SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_wholeroad.cpp LIBS fn_app fn_demo TIMEOUT 400)
