fn_add_test(tst_cachelisting SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cachelisting.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cachefixture.h LIBS fn_cache)
