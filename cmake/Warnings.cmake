add_compile_options(-Wall -Wextra -Wpedantic -Werror)
# Tables are aggregates whose later members keep their defaults (hooks, rules), for both
# compilers.
add_compile_options(-Wno-missing-field-initializers)
