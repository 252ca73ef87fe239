# check_p256_point(<setting> <128 hexadecimal digits>)
# Stops the configuration unless the digits are the X and Y coordinates of
# a point of the NIST P-256 curve. Form alone is not enough: a key that is
# no point is taken by some crypto providers without complaint, and an
# updater built with it would then refuse every release.
find_package(Python3 COMPONENTS Interpreter)

function(check_p256_point setting key)
  if(NOT Python3_Interpreter_FOUND)
    message(FATAL_ERROR "${setting}: python3 is needed to check that the key is a point of P-256")
  endif()
  # y^2 = x^3 - 3x + b over the prime p, both coordinates below p.
  execute_process(
    COMMAND ${Python3_EXECUTABLE} -c "
import sys
p = 0xffffffff00000001000000000000000000000000ffffffffffffffffffffffff
b = 0x5ac635d8aa3a93e7b3ebbd55769886bc651d06b0cc53b0f63bce3c3e27d2604b
k = sys.argv[1]
x, y = int(k[:64], 16), int(k[64:], 16)
sys.exit(0 if x < p and y < p and (y * y - (x * x * x - 3 * x + b)) % p == 0 else 1)
" "${key}"
    RESULT_VARIABLE not_a_point)
  if(not_a_point)
    message(FATAL_ERROR "${setting}: ${key} is not a point of the P-256 curve, so it is no public key; give the "
                        "128 digits that Quenfar8Release.exe keygen printed for your key")
  endif()
endfunction()
