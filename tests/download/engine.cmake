fn_add_test(tst_engines SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_engines.cpp LIBS fn_engine)
fn_add_test(tst_scheduler SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_scheduler.cpp LIBS fn_engine)
fn_add_test(tst_hostile SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_hostile.cpp LIBS fn_engine fn_downloadcommands)
fn_add_test(tst_queue SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_queue.cpp LIBS fn_engine fn_downloadcommands)
