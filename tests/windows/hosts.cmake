# The Linux side of the comparison with the Windows build (tests/windows/run)
# and the other Linux architectures (tests/cross/run): the same converter
# table and the same library host.
add_executable(zem_charcode_host ${CMAKE_CURRENT_LIST_DIR}/charcode_host.cpp)
target_link_libraries(zem_charcode_host PRIVATE zemcore)
add_executable(zem_dll_host ${CMAKE_CURRENT_LIST_DIR}/dll_host.c)
target_include_directories(zem_dll_host PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(zem_dll_host PRIVATE ${CMAKE_DL_LIBS})
