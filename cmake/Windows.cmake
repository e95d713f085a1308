# The installer and its tests, cross-compiled for 32-bit Windows and run under Wine.
enable_language(RC)

set(ZUNO_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
set(ZUNO_WINE_ENV ${CMAKE_SOURCE_DIR}/tests/harness/wine-env.sh)
# Every Windows program the tests start goes through the build tree's own Wine environment.
set(CMAKE_CROSSCOMPILING_EMULATOR "${ZUNO_WINE_ENV};${ZUNO_WINE_STATE};run")

# The maker's download server. The default lies under the reserved .example domain, so a
# build that was not given the real host can never reach a third party.
set(ZUNO_DOWNLOAD_HOST "download.zuno.example" CACHE STRING "Host name of the package download server")

# The setup program is started only when its Authenticode signer is the maker's: the SHA-256
# of the signer certificate's SubjectPublicKeyInfo (DER), 64 hex digits, ';' between several
# (for a key rotation). Without pins the build trusts only a test key of its own, made here.
set(ZUNO_SIGNER_PINS "" CACHE STRING "SHA-256 pins of the setup's signer keys (64 hex digits each, ';' between)")
set(ZUNO_TEST_SIGNING_DIR ${CMAKE_BINARY_DIR}/signing)
execute_process(COMMAND ${CMAKE_SOURCE_DIR}/cmake/make-test-signers.sh ${ZUNO_TEST_SIGNING_DIR}
                RESULT_VARIABLE signers_made)
if(NOT signers_made EQUAL 0)
  message(FATAL_ERROR "Could not make the test signing keys in ${ZUNO_TEST_SIGNING_DIR} (openssl)")
endif()
if(ZUNO_SIGNER_PINS STREQUAL "")
  if(NOT ZUNO_DOWNLOAD_HOST MATCHES "\\.example$")
    message(FATAL_ERROR "ZUNO_DOWNLOAD_HOST=${ZUNO_DOWNLOAD_HOST} is a real download server, and no "
                        "signer is pinned: give the maker's with -DZUNO_SIGNER_PINS=<sha256>[;<sha256>...]")
  endif()
  file(STRINGS ${ZUNO_TEST_SIGNING_DIR}/signer.pin zuno_pins)
  message(STATUS "No signer pins given: the setup must be signed by this build's test key (${zuno_pins})")
else()
  set(zuno_pins "${ZUNO_SIGNER_PINS}")
  foreach(pin IN LISTS zuno_pins)
    string(LENGTH "${pin}" pin_length)
    if(NOT pin_length EQUAL 64 OR NOT pin MATCHES "^[0-9a-fA-F]+$")
      message(FATAL_ERROR "ZUNO_SIGNER_PINS: \"${pin}\" is not 64 hexadecimal digits")
    endif()
  endforeach()
endif()

# The oldest setup the installer starts (its file version, four parts): an older build of the
# maker's, signed as it was, is refused like an unsigned one. A build for a real download host
# must name it; the test builds take the demo setup's floor.
set(ZUNO_MIN_SETUP_VERSION "" CACHE STRING "Oldest file version of the setup program that is started (a.b.c.d)")
set(zuno_min_version "${ZUNO_MIN_SETUP_VERSION}")
if(zuno_min_version STREQUAL "")
  if(NOT ZUNO_DOWNLOAD_HOST MATCHES "\\.example$")
    message(FATAL_ERROR "ZUNO_DOWNLOAD_HOST=${ZUNO_DOWNLOAD_HOST} is a real download server: name the oldest "
                        "setup it may start with -DZUNO_MIN_SETUP_VERSION=a.b.c.d")
  endif()
  set(zuno_min_version "2.0.0.0")
endif()
if(NOT zuno_min_version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "ZUNO_MIN_SETUP_VERSION: \"${zuno_min_version}\" is not a.b.c.d")
endif()
set(zuno_version_parts ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
foreach(part IN LISTS zuno_version_parts)
  if(part GREATER 65535)
    message(FATAL_ERROR "ZUNO_MIN_SETUP_VERSION: \"${zuno_min_version}\" has a part above 65535")
  endif()
endforeach()
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/setup_release.h CONTENT
"// Made by the build from ZUNO_SIGNER_PINS and ZUNO_MIN_SETUP_VERSION.\n#pragma once\n\n#include <cstdint>\n\n\
constexpr wchar_t kSignerPins[] = L\"${zuno_pins}\";\n\
// ${zuno_min_version}\n\
constexpr uint64_t kMinimumSetupVersion = (uint64_t{${CMAKE_MATCH_1}} << 48) | (uint64_t{${CMAKE_MATCH_2}} << 32) | \
(uint64_t{${CMAKE_MATCH_3}} << 16) | uint64_t{${CMAKE_MATCH_4}};\n")

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
add_compile_options(-Wall -Wextra)
# Everything self-contained: no mingw runtime DLL beside the programs.
add_link_options(-static -static-libgcc -static-libstdc++)

# DLLs that are not KnownDLLs, so that Windows would look for them in the installer's own
# folder first: the installer loads them at first use, from the system directory only, and
# comctl32 under its own activation context (win/dll_search.h). One delay-load import library
# each, made from mingw-w64's import library.
set(ZUNO_DELAY_LOADED_DLLS version winhttp wintrust crypt32 bcrypt comctl32 userenv oleacc)
set(ZUNO_DELAY_LIBS)
foreach(dll IN LISTS ZUNO_DELAY_LOADED_DLLS)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${dll}.a
                  OUTPUT_VARIABLE import_lib OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(delay_lib ${CMAKE_BINARY_DIR}/delay/lib${dll}_delay.a)
  add_custom_command(OUTPUT ${delay_lib}
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/make-delay-lib.sh i686-w64-mingw32-nm i686-w64-mingw32-dlltool
            ${import_lib} ${dll} ${CMAKE_BINARY_DIR}/delay
    DEPENDS ${import_lib} ${CMAKE_SOURCE_DIR}/cmake/make-delay-lib.sh
    VERBATIM)
  list(APPEND ZUNO_DELAY_LIBS ${delay_lib})
endforeach()
add_custom_target(zuno_delay_libs DEPENDS ${ZUNO_DELAY_LIBS})
# wincrypt.h, commctrl.h and userenv.h declare functions DECLSPEC_IMPORT: a call through __imp__
# would skip the delay-load thunk, which the linker then drops (check-delay-map.sh catches that).
add_compile_definitions(WINIMPM= WINCOMMCTRLAPI= _USERENV_)

# A build of the installer: delay-loaded DLLs, and the process entry that restricts the DLL
# search before the C runtime starts (app/main.cpp). The link map is checked for dropped
# delay-load thunks.
function(zuno_installer_program target)
  set_target_properties(${target} PROPERTIES ZUNO_DELAY_LOAD ON)
  add_dependencies(${target} zuno_delay_libs)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  target_link_options(${target} PRIVATE -municode -Wl,-e,_ZunoProcessStart -Wl,-Map=${map})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/check-delay-map.sh ${map} VERBATIM)
endfunction()

# The product's code, linked by the exe and by the tests.
add_library(zuno_core STATIC
  app/accessibility.cpp
  app/banner.cpp
  app/installer_ends.cpp
  app/messages.cpp
  app/progress_line.cpp
  app/removal_offer.cpp
  app/run_log.cpp
  app/log_header.cpp
  app/safe_start.cpp
  app/status_thread.cpp
  app/taskbar_button.cpp
  app/transparent_static.cpp
  app/zuno_online_setup_app.cpp
  app/zuno_online_setup_dlg.cpp
  download/download_source.cpp
  download/failure_cause.cpp
  download/active_downloader.cpp
  download/http_downloader.cpp
  download/http_request.cpp
  download/http_text.cpp
  download/proxy_discovery.cpp
  download/redirect.cpp
  download/proxy_modes.cpp
  download/spare_paths.cpp
  existing/previous_version.cpp
  existing/product_detection.cpp
  existing/restart_copy.cpp
  package/md5.cpp
  package/package_codec.cpp
  package/package_file.cpp
  win/activation_context.cpp
  win/application.cpp
  win/clock.cpp
  win/dialog.cpp
  win/dll_search.cpp
  win/environment.cpp
  win/file_identity.cpp
  win/file_trust.cpp
  win/protected_folder.cpp
  win/registry_version.cpp
  win/subclassed_window.cpp
  win/trace.cpp
  win/wide_string.cpp
  workflow/setup_signature.cpp
  workflow/startup_checks.cpp
  workflow/worker_thread.cpp
)
target_include_directories(zuno_core PUBLIC ${CMAKE_SOURCE_DIR} PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_compile_options(zuno_core PRIVATE -fno-exceptions -fno-rtti)
# The installer's builds (those with the ZUNO_DELAY_LOAD property) delay-load every DLL that is
# not a KnownDLL; other programs of the build import them as usual.
target_link_libraries(zuno_core PUBLIC shell32 shlwapi advapi32 user32 gdi32 ole32 uuid ntdll kernel32
  "$<IF:$<BOOL:$<TARGET_PROPERTY:ZUNO_DELAY_LOAD>>,${ZUNO_DELAY_LIBS},${ZUNO_DELAY_LOADED_DLLS}>")

add_executable(ZunoOnlineSetup WIN32 app/main.cpp resources/ZunoOnlineSetup.rc)
target_compile_options(ZunoOnlineSetup PRIVATE -fno-exceptions -fno-rtti)
target_link_options(ZunoOnlineSetup PRIVATE -Wl,--gc-sections)
zuno_installer_program(ZunoOnlineSetup)
target_link_libraries(ZunoOnlineSetup PRIVATE zuno_core)
set_source_files_properties(resources/ZunoOnlineSetup.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/ZunoOnlineSetup.manifest;${CMAKE_SOURCE_DIR}/resources/CommonControls.manifest;${CMAKE_SOURCE_DIR}/resources/zuno.ico;${CMAKE_SOURCE_DIR}/resources/banner.bmp;${CMAKE_SOURCE_DIR}/resources/banner-144.bmp;${CMAKE_SOURCE_DIR}/resources/banner-192.bmp")
target_include_directories(ZunoOnlineSetup PRIVATE ${CMAKE_SOURCE_DIR})

# The most the shipped exe may weigh, stripped.
set(ZUNO_RELEASE_LIMIT 262144)

# The exe as it ships, release/ZunoOnlineSetup.exe (the target "release"): stripped, signed with
# the maker's code-signing key when one is given, and the build fails when it is over 256 KiB.
set(ZUNO_SIGNING_KEY "" CACHE FILEPATH "Private key (PEM) that signs release/ZunoOnlineSetup.exe")
set(ZUNO_SIGNING_CERT "" CACHE FILEPATH "Its code-signing certificate (PEM, the chain after it)")
set(zuno_signing ${ZUNO_SIGNING_KEY} ${ZUNO_SIGNING_CERT})
list(LENGTH zuno_signing signing_files)
if(signing_files EQUAL 1)
  message(FATAL_ERROR "Signing the release exe takes both ZUNO_SIGNING_KEY and ZUNO_SIGNING_CERT")
endif()
foreach(file IN LISTS zuno_signing)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "No such signing file: ${file}")
  endif()
endforeach()
set(release_exe ${CMAKE_BINARY_DIR}/release/ZunoOnlineSetup.exe)
add_custom_command(OUTPUT ${release_exe}
  COMMAND ${CMAKE_SOURCE_DIR}/cmake/make-release-exe.sh i686-w64-mingw32-strip $<TARGET_FILE:ZunoOnlineSetup>
          ${release_exe} ${ZUNO_RELEASE_LIMIT} ${zuno_signing}
  DEPENDS ZunoOnlineSetup ${zuno_signing} ${CMAKE_SOURCE_DIR}/cmake/make-release-exe.sh
  VERBATIM)
add_custom_target(release DEPENDS ${release_exe})

# The package tool, as a Windows program too.
add_executable(zuno-pack tools/zuno_pack.cpp package/md5.cpp package/package_codec.cpp)
target_include_directories(zuno-pack PRIVATE ${CMAKE_SOURCE_DIR})

# The Windows path under which Wine's Z: drive shows a file of this machine.
function(zuno_wine_path out unix_path)
  string(REPLACE "/" "\\" windows_path "${unix_path}")
  set(${out} "Z:${windows_path}" PARENT_SCOPE)
endfunction()
zuno_wine_path(ZUNO_SETUP_EXE_WIN "${CMAKE_BINARY_DIR}/ZunoOnlineSetup.exe")

# The Wine environment comes up before the first test and goes down after the last.
add_test(NAME wine.up COMMAND ${ZUNO_WINE_ENV} ${ZUNO_WINE_STATE} up)
add_test(NAME wine.down COMMAND ${ZUNO_WINE_ENV} ${ZUNO_WINE_STATE} down)
set_tests_properties(wine.up PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
set_tests_properties(wine.down PROPERTIES FIXTURES_CLEANUP wine)

add_subdirectory(tests)

# Benchmarks (run by bench/*.sh, never by the tests).
add_executable(decode_bench bench/decode_bench.cpp)
target_link_libraries(decode_bench PRIVATE zuno_core)
target_link_options(decode_bench PRIVATE -municode)
add_executable(bare_dialog WIN32 bench/bare_dialog.cpp bench/bare_dialog.rc)
target_link_libraries(bare_dialog PRIVATE comctl32)
target_link_options(bare_dialog PRIVATE -municode)
add_executable(http_bench bench/http_bench.cpp)
target_link_libraries(http_bench PRIVATE zuno_core)
target_link_options(http_bench PRIVATE -municode)
add_executable(startup_probe bench/startup_probe.cpp)
target_link_options(startup_probe PRIVATE -municode)
target_compile_definitions(zuno_core PUBLIC "ZUNO_DOWNLOAD_HOST=L\"${ZUNO_DOWNLOAD_HOST}\"")
