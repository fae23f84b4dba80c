i=0
while [ $i -lt 2000 ]; do
  /bin/true
  i=$((i + 1))
done
echo $i
