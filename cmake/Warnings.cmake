# Compiler flags shared by every target.
# The synthesizer must give the same samples on every machine: no fused multiply-add contraction,
# no fast-math, no host-specific instruction selection.
add_compile_options(-Wall -Wextra -ffp-contract=off -fno-fast-math)
if(QM_WERROR)
  add_compile_options(-Werror)
endif()
