add_library(fn_downloadui STATIC
    ${CMAKE_CURRENT_LIST_DIR}/loginpanel.cpp ${CMAKE_CURRENT_LIST_DIR}/loginpanel.h
    ${CMAKE_CURRENT_LIST_DIR}/downloadwindow.cpp ${CMAKE_CURRENT_LIST_DIR}/downloadwindow.h
    ${CMAKE_CURRENT_LIST_DIR}/downloadwindowlibrary.cpp)
target_link_libraries(fn_downloadui PUBLIC fn_downloadcommands fn_downloadlibrary fn_session fn_browser fn_shell fn_notify
    Qt6::Widgets Qt6::WebEngineWidgets)
