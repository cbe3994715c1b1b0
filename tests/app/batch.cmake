# Batch mode, run through the real program against local sites.
fn_add_test(tst_batch SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_batch.cpp LIBS fn_demo Qt6::Network TIMEOUT 240)
target_compile_definitions(tst_batch PRIVATE FOLIONEXUS_EXE="$<TARGET_FILE:folionexus>")
add_dependencies(tst_batch folionexus)

# The batch mode links no widgets: a program made of it alone must not load Qt Widgets, and answers --help.
add_executable(batch_probe ${CMAKE_CURRENT_LIST_DIR}/batchprobe.cpp)
target_link_libraries(batch_probe PRIVATE fn_batch)
add_test(NAME batch_links_no_widgets COMMAND sh -c
    "! ldd '$<TARGET_FILE:batch_probe>' | grep -q libQt6Widgets && '$<TARGET_FILE:batch_probe>' --batch --help | grep -q -- --out")
