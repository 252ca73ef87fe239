# write_if_changed(<file> <text>): writes text to file unless the file holds
# it already, so that a generated source does not rebuild what uses it.
function(write_if_changed file text)
  set(old "")
  if(EXISTS "${file}")
    file(READ "${file}" old)
  endif()
  if(NOT "${old}" STREQUAL "${text}")
    file(WRITE "${file}" "${text}")
  endif()
endfunction()
