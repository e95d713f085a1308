# The parts that are plain C++, built natively: the package codec, its tool, the fuzz target.
add_compile_options(-Wall -Wextra)

set(ZUNO_CODEC_SOURCES package/md5.cpp package/package_codec.cpp)

# Optimised, for the tool and the benchmark.
add_library(zuno_codec STATIC ${ZUNO_CODEC_SOURCES})
target_include_directories(zuno_codec PUBLIC ${CMAKE_SOURCE_DIR})

add_executable(zuno-pack tools/zuno_pack.cpp)
target_link_libraries(zuno-pack PRIVATE zuno_codec)

# The same code under AddressSanitizer and UndefinedBehaviorSanitizer, for tests and fuzzing.
set(ZUNO_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_library(zuno_codec_checked STATIC ${ZUNO_CODEC_SOURCES})
target_include_directories(zuno_codec_checked PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(zuno_codec_checked PUBLIC ${ZUNO_SANITIZERS})
target_link_options(zuno_codec_checked PUBLIC ${ZUNO_SANITIZERS})

# What the download engine works out without the network, under the same sanitizers.
add_library(zuno_download_text_checked STATIC download/http_text.cpp download/failure_cause.cpp)
target_include_directories(zuno_download_text_checked PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(zuno_download_text_checked PUBLIC ${ZUNO_SANITIZERS})
target_link_options(zuno_download_text_checked PUBLIC ${ZUNO_SANITIZERS})

add_subdirectory(tests/host)
