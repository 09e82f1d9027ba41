# Both programs are built from one tree. Every library is compiled once per
# edition: the full edition's target carries the plain name (lipkg), the
# earlier edition's the suffix _classic (lipkg_classic). Each links its
# edition's library from editions/ (edition, edition_classic), which sets the
# compile definition VANTOSCOPE_EDITION_CLASSIC (read in one place,
# editions/edition.h) and holds the few edition-specific sources. One
# configure builds both programs, Viewer and ViewerClassic; set
# VANTOSCOPE_EDITIONS to one of them to build only that edition.

set(VANTOSCOPE_EDITIONS "full;classic" CACHE STRING "Editions to build (full;classic)")

# vantoscope_edition_suffix(<edition> <out-var>)
function(vantoscope_edition_suffix edition out)
    if(edition STREQUAL "full")
        set(${out} "" PARENT_SCOPE)
    else()
        set(${out} "_${edition}" PARENT_SCOPE)
    endif()
endfunction()

# vantoscope_header_root(<name> <out-var>)
# The include directory a library offers to the targets that link it: a
# directory of its own in the build tree holding one link, named after the
# library's folder relative to the source root, to that folder. Headers of
# another library are therefore included by their path ("lipkg/lipkg.h"),
# and only a target that links the library finds them.
function(vantoscope_header_root name out)
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    set(root ${PROJECT_BINARY_DIR}/include/${name})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
    set(${out} ${root} PARENT_SCOPE)
endfunction()

# vantoscope_library(<name> [INTERFACE] [SOURCES ...] [QT ...] [DEPS ...])
# Adds one static library per edition; with INTERFACE, one header-only
# library per edition offering the folder's headers. DEPS names other Vantoscope libraries (without
# suffix); they are linked in the same edition.
function(vantoscope_library name)
    cmake_parse_arguments(ARG "INTERFACE" "" "SOURCES;QT;DEPS" ${ARGN})
    vantoscope_header_root(${name} headers)
    if(ARG_INTERFACE)
        set(usage INTERFACE)
    else()
        set(usage PUBLIC)
    endif()
    foreach(edition IN LISTS VANTOSCOPE_EDITIONS)
        vantoscope_edition_suffix(${edition} suffix)
        set(target ${name}${suffix})
        if(ARG_INTERFACE)
            add_library(${target} INTERFACE)
        else()
            add_library(${target} STATIC ${ARG_SOURCES})
        endif()
        target_include_directories(${target} ${usage} ${headers})
        target_link_libraries(${target} ${usage} edition${suffix})
        foreach(qt IN LISTS ARG_QT)
            target_link_libraries(${target} ${usage} Qt${QT_VERSION_MAJOR}::${qt})
        endforeach()
        foreach(dep IN LISTS ARG_DEPS)
            target_link_libraries(${target} ${usage} ${dep}${suffix})
        endforeach()
    endforeach()
endfunction()

# The environment of every test: the offscreen platform, and the sanitizer
# build checking leaks with the suppressions for Qt's own (tests/lsan.supp).
# Programs a test starts inherit it.
set(VANTOSCOPE_TEST_ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen"
    "ASAN_OPTIONS=detect_leaks=1"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=print_stacktrace=1")

# vantoscope_test(<name> SOURCES ... DEPS ... [GUI] [TIMING])
# One QtTest executable per edition, registered with CTest as
# <name> (full) and <name>_classic. Tests run in their own scratch
# directory, with a data folder (XDG_DATA_HOME) inside it, so they never
# touch a real settings file or results history. GUI marks tests that
# draw widgets or text: they carry the label "gui", and scripts/test runs
# them a second time with another font family.
# TIMING marks a test that measures CPU or wall time: it gets the label
# "timing" and runs alone, so parallel tests do not eat its margins.
function(vantoscope_test name)
    cmake_parse_arguments(ARG "GUI;TIMING" "" "SOURCES;DEPS;EDITIONS;LIBS" ${ARGN})
    if(NOT ARG_EDITIONS)
        set(ARG_EDITIONS ${VANTOSCOPE_EDITIONS})
    endif()
    foreach(edition IN LISTS ARG_EDITIONS)
        if(NOT edition IN_LIST VANTOSCOPE_EDITIONS)
            continue()
        endif()
        vantoscope_edition_suffix(${edition} suffix)
        set(target ${name}${suffix})
        add_executable(${target} ${ARG_SOURCES})
        target_link_libraries(${target} PRIVATE Qt${QT_VERSION_MAJOR}::Test ${ARG_LIBS})
        foreach(dep IN LISTS ARG_DEPS)
            target_link_libraries(${target} PRIVATE ${dep}${suffix})
        endforeach()
        set(labels ${edition})
        if(ARG_GUI)
            list(APPEND labels gui)
        endif()
        set(workdir ${CMAKE_CURRENT_BINARY_DIR}/${target}.work)
        file(MAKE_DIRECTORY ${workdir})
        add_test(NAME ${target} COMMAND ${target} WORKING_DIRECTORY ${workdir})
        set_tests_properties(${target} PROPERTIES
            ENVIRONMENT "${VANTOSCOPE_TEST_ENVIRONMENT};XDG_DATA_HOME=${workdir}/data"
            LABELS "${labels}"
            TIMEOUT 300)
        if(ARG_TIMING)
            set_property(TEST ${target} APPEND PROPERTY LABELS timing)
            set_tests_properties(${target} PROPERTIES RUN_SERIAL TRUE)
        endif()
    endforeach()
endfunction()
