add_library(fn_downloadcommands STATIC
    ${CMAKE_CURRENT_LIST_DIR}/downloadcommands.cpp ${CMAKE_CURRENT_LIST_DIR}/downloadcommands.h)
target_link_libraries(fn_downloadcommands PUBLIC fn_download fn_common Qt6::Core)
