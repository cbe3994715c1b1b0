fn_add_test(tst_queueprogress SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_queueprogress.cpp LIBS fn_download)
