add_library(fn_downloadui STATIC
    ${CMAKE_CURRENT_LIST_DIR}/loginpanel.cpp ${CMAKE_CURRENT_LIST_DIR}/loginpanel.h
    ${CMAKE_CURRENT_LIST_DIR}/downloadwindow.cpp ${CMAKE_CURRENT_LIST_DIR}/downloadwindow.h)
target_link_libraries(fn_downloadui PUBLIC fn_downloadcommands fn_session fn_browser fn_shell fn_notify
    Qt6::Widgets Qt6::WebEngineWidgets)
