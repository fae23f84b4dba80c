i=0
while [ $i -lt 100000 ]; do
  i=$((i + 1))
done
echo $i
