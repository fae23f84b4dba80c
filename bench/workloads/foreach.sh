words=$(seq 1 300)
n=0
k=0
while [ $k -lt 100 ]; do
  for w in $words; do
    n=$((n + 1))
  done
  k=$((k + 1))
done
echo $n
