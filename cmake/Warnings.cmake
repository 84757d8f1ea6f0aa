# One set of warnings and floating-point rules for every target.
# Contraction to FMA would change results bit-wise, so it is off everywhere.
add_compile_options(-Wall -Wextra -Wpedantic -ffp-contract=off)

set(QUORLEN_SANITIZE "" CACHE STRING "Sanitizers to build with: empty, 'address,undefined' or 'thread'")
if(QUORLEN_SANITIZE)
  add_compile_options(-fsanitize=${QUORLEN_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QUORLEN_SANITIZE})
  if(QUORLEN_SANITIZE MATCHES "undefined")
    # The vptr check needs type information that modules deliberately keep hidden.
    add_compile_options(-fsanitize=float-cast-overflow -fno-sanitize=vptr)
    add_link_options(-fsanitize=float-cast-overflow)
  endif()
endif()
