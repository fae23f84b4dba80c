i=0
while [ $i -lt 5000 ]; do
  eval "v$i=$i"
  i=$((i + 1))
done
i=0
sum=0
while [ $i -lt 5000 ]; do
  eval "sum=\$((sum + v$i))"
  i=$((i + 1))
done
echo $sum
