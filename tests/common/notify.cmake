fn_add_test(tst_notifier SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_notifier.cpp LIBS fn_notify)
