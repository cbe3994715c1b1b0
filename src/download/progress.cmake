# What a run of the queue has done and how fast it goes: speed, time left, the summary at its end.
target_sources(fn_download PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/queueprogress.cpp ${CMAKE_CURRENT_LIST_DIR}/queueprogress.h)
