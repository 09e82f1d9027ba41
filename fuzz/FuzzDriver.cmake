# The code shared by the libFuzzer harnesses and the regression test that
# replays saved inputs: the input drivers and the invariant checks, one
# library per edition (fuzzdriver, fuzzdriver_classic).
include_guard(GLOBAL)

foreach(edition IN LISTS VANTOSCOPE_EDITIONS)
    vantoscope_edition_suffix(${edition} suffix)
    add_library(fuzzdriver${suffix} STATIC
        ${CMAKE_CURRENT_LIST_DIR}/fuzzdriver.cpp ${CMAKE_CURRENT_LIST_DIR}/fuzzdriver.h
        ${CMAKE_CURRENT_LIST_DIR}/invariants.cpp ${CMAKE_CURRENT_LIST_DIR}/invariants.h)
    target_include_directories(fuzzdriver${suffix} PUBLIC ${CMAKE_CURRENT_LIST_DIR})
    target_link_libraries(fuzzdriver${suffix} PUBLIC
        lipkg${suffix} trnet${suffix} debugpkg${suffix} capture${suffix} check${suffix} bridge${suffix}
        Qt${QT_VERSION_MAJOR}::Core
        Qt${QT_VERSION_MAJOR}::SerialPort)
endforeach()
