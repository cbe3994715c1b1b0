# Desktop notifications over the session bus (no widgets).
add_library(fn_notify STATIC
    ${CMAKE_CURRENT_LIST_DIR}/desktopnotifier.cpp ${CMAKE_CURRENT_LIST_DIR}/desktopnotifier.h)
target_link_libraries(fn_notify PUBLIC fn_common Qt6::Core Qt6::DBus)
