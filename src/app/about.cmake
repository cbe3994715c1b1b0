# The about window.
add_library(fn_about STATIC ${CMAKE_CURRENT_LIST_DIR}/aboutwindow.cpp ${CMAKE_CURRENT_LIST_DIR}/aboutwindow.h)
target_link_libraries(fn_about PUBLIC fn_shell fn_common Qt6::Widgets)
