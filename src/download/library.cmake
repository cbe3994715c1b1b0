# The download queue's side of the paper library: held rows, recorded outcomes, the saved list, exports.
add_library(fn_downloadlibrary STATIC
    ${CMAKE_CURRENT_LIST_DIR}/exportrecords.cpp ${CMAKE_CURRENT_LIST_DIR}/exportrecords.h
    ${CMAKE_CURRENT_LIST_DIR}/heldrowchecker.cpp ${CMAKE_CURRENT_LIST_DIR}/heldrowchecker.h
    ${CMAKE_CURRENT_LIST_DIR}/libraryrecorder.cpp ${CMAKE_CURRENT_LIST_DIR}/libraryrecorder.h
    ${CMAKE_CURRENT_LIST_DIR}/queuekeeper.cpp ${CMAKE_CURRENT_LIST_DIR}/queuekeeper.h)
target_link_libraries(fn_downloadlibrary PUBLIC fn_engine fn_library Qt6::Core)
