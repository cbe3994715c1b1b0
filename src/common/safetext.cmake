# Keeping page text away from file names and terminals.
target_sources(fn_common PRIVATE ${CMAKE_CURRENT_LIST_DIR}/safetext.cpp ${CMAKE_CURRENT_LIST_DIR}/safetext.h)
