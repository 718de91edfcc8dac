# Read by cpack before it builds the package.
find_program(Q714_SHLIBDEPS dpkg-shlibdeps)
find_program(Q714_FILE file)
if(NOT Q714_SHLIBDEPS OR NOT Q714_FILE)
  message(FATAL_ERROR "The package's dependencies are worked out by dpkg-shlibdeps and file: "
                      "sudo apt-get install dpkg-dev file")
endif()
