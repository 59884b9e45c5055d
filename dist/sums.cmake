# Writes DIR/SHA256SUMS for FILES (names in DIR, separated by commas), in the format `sha256sum -c` reads.
string(REPLACE "," ";" FILES "${FILES}")
set(text "")
foreach(f ${FILES})
  file(SHA256 ${DIR}/${f} hash)
  string(APPEND text "${hash}  ${f}\n")
endforeach()
file(WRITE ${DIR}/SHA256SUMS "${text}")
