fn_add_test(tst_notifier SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_notifier.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../support/privatebus.h LIBS fn_notify)
