# One warning set for both compilers; the build must stay free of warnings.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wno-missing-field-initializers)
if(WIN32)
  # Win32 headers use anonymous structs in unions and casts between function
  # pointer types (GetProcAddress); both are how the platform is meant to be used.
  add_compile_options(-Wno-cast-function-type)
endif()
