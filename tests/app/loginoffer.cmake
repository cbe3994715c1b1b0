# The login panel's address box offers the site the search window shows.
fn_add_test(tst_loginoffer SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_loginoffer.cpp LIBS fn_app fn_demo)
