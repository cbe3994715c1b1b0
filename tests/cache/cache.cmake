fn_add_test(tst_cachelisting SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cachelisting.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cachefixture.h LIBS fn_cache)
fn_add_test(tst_cacheviewer SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cacheviewer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cachefixture.h LIBS fn_cacheui Qt6::WebEngineWidgets Qt6::Network)
