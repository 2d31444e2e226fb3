# Imported targets for the libraries the tree links: OpenSSL's libcrypto,
# cJSON and GoogleTest. Cross builds take libcrypto and cJSON from the
# cache that scripts/setup.sh fills, and build GoogleTest from Debian's
# sources; the native build uses the system's packages.

set(SIGWELL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")

if(WIN32)
    set(SIGWELL_DEPS_DIR "${CMAKE_SOURCE_DIR}/build/deps/${SIGWELL_ARCH}" CACHE PATH
        "Cross-built libcrypto and cJSON")
    if(NOT EXISTS "${SIGWELL_DEPS_DIR}/lib/libcrypto.a")
        message(FATAL_ERROR "${SIGWELL_DEPS_DIR} has no libcrypto.a: run scripts/setup.sh")
    endif()

    add_library(OpenSSL::Crypto STATIC IMPORTED)
    set_target_properties(OpenSSL::Crypto PROPERTIES
        IMPORTED_LOCATION "${SIGWELL_DEPS_DIR}/lib/libcrypto.a"
        INTERFACE_INCLUDE_DIRECTORIES "${SIGWELL_DEPS_DIR}/include"
        INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;user32;advapi32;bcrypt")

    add_library(cjson STATIC IMPORTED)
    set_target_properties(cjson PROPERTIES
        IMPORTED_LOCATION "${SIGWELL_DEPS_DIR}/lib/libcjson.a"
        INTERFACE_INCLUDE_DIRECTORIES "${SIGWELL_DEPS_DIR}/include")

    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory("${SIGWELL_GOOGLETEST_SOURCE}" googletest EXCLUDE_FROM_ALL SYSTEM)
else()
    find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)
    find_package(GTest REQUIRED)
    find_package(benchmark QUIET)
endif()
