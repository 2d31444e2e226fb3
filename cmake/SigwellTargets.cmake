# Compiler settings shared by every target, and the helpers that declare
# the tree's libraries, programs and tests.

set(SIGWELL_WARNINGS -Wall -Wextra)

if(WIN32)
    add_compile_definitions(UNICODE _UNICODE WINVER=0x0601 _WIN32_WINNT=0x0601)
    # The binaries import only system DLLs: the compiler's runtimes and
    # winpthread are linked in.
    add_link_options(-static -static-libgcc -static-libstdc++)
    set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
    # Tests run under Wine; scripts/wine-run picks the loader for the arch.
    set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/scripts/wine-run;${SIGWELL_ARCH}")
endif()

function(sigwell_warnings target)
    target_compile_options(${target} PRIVATE ${SIGWELL_WARNINGS})
endfunction()

# Each tree runs its tests in a Wine prefix and on a display of its own
# (scripts/wine-env), so whatever tests take turns on (the desktop, the
# provider registry, the certificate stores, the token library's log) is
# the tree's own: at the end of a test folder, its tests' locks are named
# for the tree, and the two trees' tests run side by side.
function(sigwell_tree_locks)
    get_property(tests DIRECTORY PROPERTY TESTS)
    foreach(test IN LISTS tests)
        get_test_property(${test} RESOURCE_LOCK locks)
        if(locks)
            list(TRANSFORM locks PREPEND ${SIGWELL_ARCH}.)
            set_tests_properties(${test} PROPERTIES RESOURCE_LOCK "${locks}")
        endif()
    endforeach()
endfunction()

# sigwell_delay_load(<target> LIBS <static libraries...> DLLS <dll names...>)
# Links the target against import libraries that load each DLL at its
# first call instead of with the target, made from the toolchain's own
# import libraries, and keeps the stubs of the functions the target's
# objects and static libraries import. A delay-loaded DLL stays loaded once
# it came.
function(sigwell_delay_load target)
    cmake_parse_arguments(D "" "" "LIBS;DLLS" ${ARGN})
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/delayload)
    # 32-bit names keep their stdcall suffix here and lose it in the DLL
    # (--kill-at); their C symbols carry a leading underscore.
    if(SIGWELL_ARCH STREQUAL "i686")
        set(prefix "__imp__")
        set(kill --kill-at)
    else()
        set(prefix "__imp_")
        set(kill)
    endif()
    set(libs)
    set(defs)
    foreach(dll IN LISTS D_DLLS)
        set(implib ${CMAKE_FIND_ROOT_PATH}/lib/lib${dll}.a)
        set(def ${dir}/${dll}.def)
        set(lib ${dir}/lib${dll}_delay.a)
        add_custom_command(OUTPUT ${lib} ${def}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
            COMMAND sh -c "{ echo 'LIBRARY ${dll}.dll'; echo EXPORTS; '${CMAKE_NM}' '${implib}' | sed -n 's/^.* I ${prefix}//p' | sort -u; } > '${def}'"
            COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --dllname ${dll}.dll --output-delaylib ${lib} ${kill}
            DEPENDS ${implib}
            VERBATIM)
        list(APPEND libs ${lib})
        list(APPEND defs ${def})
    endforeach()
    add_custom_target(${target}_delayload DEPENDS ${libs})
    add_dependencies(${target} ${target}_delayload)
    target_link_libraries(${target} PRIVATE ${libs})

    set(keep ${dir}/keep.rsp)
    set(inputs $<TARGET_OBJECTS:${target}>)
    foreach(library IN LISTS D_LIBS)
        list(APPEND inputs $<TARGET_FILE:${library}>)
    endforeach()
    add_custom_command(OUTPUT ${keep}
        COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/delayload-keep.sh ${CMAKE_NM} ${prefix} ${keep} ${defs} -- ${inputs}
        DEPENDS ${CMAKE_SOURCE_DIR}/cmake/delayload-keep.sh ${defs} ${inputs}
        VERBATIM COMMAND_EXPAND_LISTS)
    add_custom_target(${target}_delayload_keep DEPENDS ${keep})
    target_link_options(${target} PRIVATE "LINKER:@${keep}")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${keep})
endfunction()

# sigwell_beside(<program> <library targets...>): puts the libraries in
# the program's folder. Each library is copied into a folder by one target,
# which every program of that folder depends on: programs built side by
# side never copy the same file at once, and a rebuilt library reaches
# them even when they are not linked again.
function(sigwell_beside target)
    get_target_property(dir ${target} RUNTIME_OUTPUT_DIRECTORY)
    if(NOT dir)
        set(dir ${CMAKE_CURRENT_BINARY_DIR})
    endif()
    file(RELATIVE_PATH folder ${CMAKE_BINARY_DIR} ${dir})
    string(MAKE_C_IDENTIFIER "${folder}" folder)
    foreach(library IN LISTS ARGN)
        set(copy ${library}_in_${folder})
        if(NOT TARGET ${copy})
            add_custom_target(${copy} ALL
                COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${library}> ${dir}
                VERBATIM)
            add_dependencies(${copy} ${library})
        endif()
        add_dependencies(${target} ${copy})
    endforeach()
endfunction()

# sigwell_add_test(NAME <name> SOURCES <files...> [LIBS <targets...>] [DESKTOP])
# One GoogleTest program, run by CTest (under Wine in the cross builds).
# DESKTOP: the test shows windows and sends keyboard and mouse input, which
# go to whatever window is in front; such tests of one tree take turns.
function(sigwell_add_test)
    get_property(locks_named DIRECTORY PROPERTY SIGWELL_TREE_LOCKS)
    if(NOT locks_named)
        set_property(DIRECTORY PROPERTY SIGWELL_TREE_LOCKS ON)
        cmake_language(DEFER CALL sigwell_tree_locks)
    endif()
    cmake_parse_arguments(T "DESKTOP" "NAME" "SOURCES;LIBS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    sigwell_warnings(${T_NAME})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    add_test(NAME ${SIGWELL_ARCH}.${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${SIGWELL_ARCH}.${T_NAME} PROPERTIES TIMEOUT 300)
    if(T_DESKTOP)
        set_tests_properties(${SIGWELL_ARCH}.${T_NAME} PROPERTIES RESOURCE_LOCK desktop)
    endif()
endfunction()

option(SIGWELL_SANITIZE "Native build with AddressSanitizer and UBSan" OFF)
# A native tree without sanitizers for what they would distort: the
# constant-time check under valgrind and the benchmarks. It builds no unit
# tests; the sanitized tree runs those.
option(SIGWELL_MEASURE "Native build of the constant-time check and the benchmarks" OFF)
if(SIGWELL_MEASURE AND SIGWELL_SANITIZE)
    message(FATAL_ERROR "SIGWELL_MEASURE needs a tree without sanitizers")
endif()
if(NOT WIN32 AND SIGWELL_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
