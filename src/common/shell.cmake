# Desktop helpers: opening files and pages, folder dialogs, loaded-window test, system name, message boxes.
add_library(fn_shell STATIC
    ${CMAKE_CURRENT_LIST_DIR}/shellhelpers.cpp ${CMAKE_CURRENT_LIST_DIR}/shellhelpers.h
    ${CMAKE_CURRENT_LIST_DIR}/shelltexteditor.cpp ${CMAKE_CURRENT_LIST_DIR}/shelltexteditor.h
    ${CMAKE_CURRENT_LIST_DIR}/osname.cpp ${CMAKE_CURRENT_LIST_DIR}/osname.h
    ${CMAKE_CURRENT_LIST_DIR}/messageboxes.cpp ${CMAKE_CURRENT_LIST_DIR}/messageboxes.h
    ${CMAKE_CURRENT_LIST_DIR}/filedialogs.cpp ${CMAKE_CURRENT_LIST_DIR}/filedialogs.h)
target_link_libraries(fn_shell PUBLIC fn_common Qt6::Gui Qt6::Widgets Qt6::DBus)
