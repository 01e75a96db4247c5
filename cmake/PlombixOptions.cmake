# Project-wide compiler settings shared by every target.

# plombix_warnings(<target>): the warning set every target of ours builds with.
function(plombix_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow=local -Wno-missing-field-initializers)
endfunction()

if(PLOMBIX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
