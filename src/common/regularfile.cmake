# Reading a file the user named, refusing pipes and devices.
target_sources(fn_common PRIVATE ${CMAKE_CURRENT_LIST_DIR}/regularfile.cpp ${CMAKE_CURRENT_LIST_DIR}/regularfile.h)
