x=$(seq 1 200000)
set -- $x
echo $#
