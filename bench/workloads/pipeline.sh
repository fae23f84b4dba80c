i=0
while [ $i -lt 500 ]; do
  echo x | cat > /dev/null
  i=$((i + 1))
done
echo $i
