add_library(fn_browser STATIC browserprofile.cpp browserprofile.h)
target_link_libraries(fn_browser PUBLIC fn_common Qt6::WebEngineCore)
