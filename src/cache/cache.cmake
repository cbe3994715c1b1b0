# Browser cache listing and cleanup (no widgets), and the viewer window on top of it.
add_library(fn_cache STATIC
    ${CMAKE_CURRENT_LIST_DIR}/anchoredpath.cpp ${CMAKE_CURRENT_LIST_DIR}/anchoredpath.h
    ${CMAKE_CURRENT_LIST_DIR}/cachecleaner.cpp ${CMAKE_CURRENT_LIST_DIR}/cachecleaner.h
    ${CMAKE_CURRENT_LIST_DIR}/cachecommands.cpp ${CMAKE_CURRENT_LIST_DIR}/cachecommands.h
    ${CMAKE_CURRENT_LIST_DIR}/cacheentry.cpp ${CMAKE_CURRENT_LIST_DIR}/cacheentry.h
    ${CMAKE_CURRENT_LIST_DIR}/cachelisting.cpp ${CMAKE_CURRENT_LIST_DIR}/cachelisting.h
    ${CMAKE_CURRENT_LIST_DIR}/cachestore.cpp ${CMAKE_CURRENT_LIST_DIR}/cachestore.h
    ${CMAKE_CURRENT_LIST_DIR}/filetype.cpp ${CMAKE_CURRENT_LIST_DIR}/filetype.h
    ${CMAKE_CURRENT_LIST_DIR}/folderwalk.cpp ${CMAKE_CURRENT_LIST_DIR}/folderwalk.h
    ${CMAKE_CURRENT_LIST_DIR}/forcedelete.cpp ${CMAKE_CURRENT_LIST_DIR}/forcedelete.h)
target_link_libraries(fn_cache PUBLIC fn_common Qt6::Core)

add_library(fn_cacheui STATIC
    ${CMAKE_CURRENT_LIST_DIR}/cacheviewer.cpp ${CMAKE_CURRENT_LIST_DIR}/cacheviewer.h
    ${CMAKE_CURRENT_LIST_DIR}/fiecache.cpp ${CMAKE_CURRENT_LIST_DIR}/fiecache.h)
target_link_libraries(fn_cacheui PUBLIC fn_cache fn_browser Qt6::Widgets)
