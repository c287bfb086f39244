# cmake -DOUT=file -DPARTS="a|b|c" -P concatenate.cmake: OUT becomes the
# parts one after the other, each ended by a newline.
string(REPLACE "|" ";" PARTS "${PARTS}")
file(WRITE ${OUT}.tmp "")
foreach(part IN LISTS PARTS)
  file(READ ${part} content)
  file(APPEND ${OUT}.tmp "${content}\n")
endforeach()
file(RENAME ${OUT}.tmp ${OUT})
