# Windows of the settings area: the options window and the save-location chooser with its folder history.
add_library(fn_settingsui STATIC
    ${CMAKE_CURRENT_LIST_DIR}/optionswindow.cpp ${CMAKE_CURRENT_LIST_DIR}/optionswindow.h
    ${CMAKE_CURRENT_LIST_DIR}/savelocationchooser.cpp ${CMAKE_CURRENT_LIST_DIR}/savelocationchooser.h
    ${CMAKE_CURRENT_LIST_DIR}/folderhistory.cpp ${CMAKE_CURRENT_LIST_DIR}/folderhistory.h)
target_link_libraries(fn_settingsui PUBLIC fn_settings fn_shell fn_common Qt6::Widgets)
