# The parts that are plain C++, built natively: the package codec, its tool and the fuzz target.
add_compile_options(-Wall -Wextra)
