x=a
i=0
miss=0
while [ $i -lt 2000 ]; do
  case $x in
  a)
    i=$((i + 1))
    ;;
  c1)
    miss=$((miss + 1))
    ;;
  c2)
    miss=$((miss + 1))
    ;;
  c3)
    miss=$((miss + 1))
    ;;
  c4)
    miss=$((miss + 1))
    ;;
  c5)
    miss=$((miss + 1))
    ;;
  c6)
    miss=$((miss + 1))
    ;;
  c7)
    miss=$((miss + 1))
    ;;
  c8)
    miss=$((miss + 1))
    ;;
  c9)
    miss=$((miss + 1))
    ;;
  c10)
    miss=$((miss + 1))
    ;;
  c11)
    miss=$((miss + 1))
    ;;
  c12)
    miss=$((miss + 1))
    ;;
  c13)
    miss=$((miss + 1))
    ;;
  c14)
    miss=$((miss + 1))
    ;;
  c15)
    miss=$((miss + 1))
    ;;
  c16)
    miss=$((miss + 1))
    ;;
  c17)
    miss=$((miss + 1))
    ;;
  c18)
    miss=$((miss + 1))
    ;;
  c19)
    miss=$((miss + 1))
    ;;
  c20)
    miss=$((miss + 1))
    ;;
  c21)
    miss=$((miss + 1))
    ;;
  c22)
    miss=$((miss + 1))
    ;;
  c23)
    miss=$((miss + 1))
    ;;
  c24)
    miss=$((miss + 1))
    ;;
  c25)
    miss=$((miss + 1))
    ;;
  c26)
    miss=$((miss + 1))
    ;;
  c27)
    miss=$((miss + 1))
    ;;
  c28)
    miss=$((miss + 1))
    ;;
  c29)
    miss=$((miss + 1))
    ;;
  c30)
    miss=$((miss + 1))
    ;;
  c31)
    miss=$((miss + 1))
    ;;
  c32)
    miss=$((miss + 1))
    ;;
  c33)
    miss=$((miss + 1))
    ;;
  c34)
    miss=$((miss + 1))
    ;;
  c35)
    miss=$((miss + 1))
    ;;
  c36)
    miss=$((miss + 1))
    ;;
  c37)
    miss=$((miss + 1))
    ;;
  c38)
    miss=$((miss + 1))
    ;;
  c39)
    miss=$((miss + 1))
    ;;
  c40)
    miss=$((miss + 1))
    ;;
  c41)
    miss=$((miss + 1))
    ;;
  c42)
    miss=$((miss + 1))
    ;;
  c43)
    miss=$((miss + 1))
    ;;
  c44)
    miss=$((miss + 1))
    ;;
  c45)
    miss=$((miss + 1))
    ;;
  c46)
    miss=$((miss + 1))
    ;;
  c47)
    miss=$((miss + 1))
    ;;
  c48)
    miss=$((miss + 1))
    ;;
  c49)
    miss=$((miss + 1))
    ;;
  c50)
    miss=$((miss + 1))
    ;;
  c51)
    miss=$((miss + 1))
    ;;
  c52)
    miss=$((miss + 1))
    ;;
  c53)
    miss=$((miss + 1))
    ;;
  c54)
    miss=$((miss + 1))
    ;;
  c55)
    miss=$((miss + 1))
    ;;
  c56)
    miss=$((miss + 1))
    ;;
  c57)
    miss=$((miss + 1))
    ;;
  c58)
    miss=$((miss + 1))
    ;;
  c59)
    miss=$((miss + 1))
    ;;
  c60)
    miss=$((miss + 1))
    ;;
  c61)
    miss=$((miss + 1))
    ;;
  c62)
    miss=$((miss + 1))
    ;;
  c63)
    miss=$((miss + 1))
    ;;
  c64)
    miss=$((miss + 1))
    ;;
  c65)
    miss=$((miss + 1))
    ;;
  c66)
    miss=$((miss + 1))
    ;;
  c67)
    miss=$((miss + 1))
    ;;
  c68)
    miss=$((miss + 1))
    ;;
  c69)
    miss=$((miss + 1))
    ;;
  c70)
    miss=$((miss + 1))
    ;;
  c71)
    miss=$((miss + 1))
    ;;
  c72)
    miss=$((miss + 1))
    ;;
  c73)
    miss=$((miss + 1))
    ;;
  c74)
    miss=$((miss + 1))
    ;;
  c75)
    miss=$((miss + 1))
    ;;
  c76)
    miss=$((miss + 1))
    ;;
  c77)
    miss=$((miss + 1))
    ;;
  c78)
    miss=$((miss + 1))
    ;;
  c79)
    miss=$((miss + 1))
    ;;
  c80)
    miss=$((miss + 1))
    ;;
  c81)
    miss=$((miss + 1))
    ;;
  c82)
    miss=$((miss + 1))
    ;;
  c83)
    miss=$((miss + 1))
    ;;
  c84)
    miss=$((miss + 1))
    ;;
  c85)
    miss=$((miss + 1))
    ;;
  c86)
    miss=$((miss + 1))
    ;;
  c87)
    miss=$((miss + 1))
    ;;
  c88)
    miss=$((miss + 1))
    ;;
  c89)
    miss=$((miss + 1))
    ;;
  c90)
    miss=$((miss + 1))
    ;;
  c91)
    miss=$((miss + 1))
    ;;
  c92)
    miss=$((miss + 1))
    ;;
  c93)
    miss=$((miss + 1))
    ;;
  c94)
    miss=$((miss + 1))
    ;;
  c95)
    miss=$((miss + 1))
    ;;
  c96)
    miss=$((miss + 1))
    ;;
  c97)
    miss=$((miss + 1))
    ;;
  c98)
    miss=$((miss + 1))
    ;;
  c99)
    miss=$((miss + 1))
    ;;
  c100)
    miss=$((miss + 1))
    ;;
  c101)
    miss=$((miss + 1))
    ;;
  c102)
    miss=$((miss + 1))
    ;;
  c103)
    miss=$((miss + 1))
    ;;
  c104)
    miss=$((miss + 1))
    ;;
  c105)
    miss=$((miss + 1))
    ;;
  c106)
    miss=$((miss + 1))
    ;;
  c107)
    miss=$((miss + 1))
    ;;
  c108)
    miss=$((miss + 1))
    ;;
  c109)
    miss=$((miss + 1))
    ;;
  c110)
    miss=$((miss + 1))
    ;;
  c111)
    miss=$((miss + 1))
    ;;
  c112)
    miss=$((miss + 1))
    ;;
  c113)
    miss=$((miss + 1))
    ;;
  c114)
    miss=$((miss + 1))
    ;;
  c115)
    miss=$((miss + 1))
    ;;
  c116)
    miss=$((miss + 1))
    ;;
  c117)
    miss=$((miss + 1))
    ;;
  c118)
    miss=$((miss + 1))
    ;;
  c119)
    miss=$((miss + 1))
    ;;
  c120)
    miss=$((miss + 1))
    ;;
  c121)
    miss=$((miss + 1))
    ;;
  c122)
    miss=$((miss + 1))
    ;;
  c123)
    miss=$((miss + 1))
    ;;
  c124)
    miss=$((miss + 1))
    ;;
  c125)
    miss=$((miss + 1))
    ;;
  c126)
    miss=$((miss + 1))
    ;;
  c127)
    miss=$((miss + 1))
    ;;
  c128)
    miss=$((miss + 1))
    ;;
  c129)
    miss=$((miss + 1))
    ;;
  c130)
    miss=$((miss + 1))
    ;;
  c131)
    miss=$((miss + 1))
    ;;
  c132)
    miss=$((miss + 1))
    ;;
  c133)
    miss=$((miss + 1))
    ;;
  c134)
    miss=$((miss + 1))
    ;;
  c135)
    miss=$((miss + 1))
    ;;
  c136)
    miss=$((miss + 1))
    ;;
  c137)
    miss=$((miss + 1))
    ;;
  c138)
    miss=$((miss + 1))
    ;;
  c139)
    miss=$((miss + 1))
    ;;
  c140)
    miss=$((miss + 1))
    ;;
  c141)
    miss=$((miss + 1))
    ;;
  c142)
    miss=$((miss + 1))
    ;;
  c143)
    miss=$((miss + 1))
    ;;
  c144)
    miss=$((miss + 1))
    ;;
  c145)
    miss=$((miss + 1))
    ;;
  c146)
    miss=$((miss + 1))
    ;;
  c147)
    miss=$((miss + 1))
    ;;
  c148)
    miss=$((miss + 1))
    ;;
  c149)
    miss=$((miss + 1))
    ;;
  c150)
    miss=$((miss + 1))
    ;;
  c151)
    miss=$((miss + 1))
    ;;
  c152)
    miss=$((miss + 1))
    ;;
  c153)
    miss=$((miss + 1))
    ;;
  c154)
    miss=$((miss + 1))
    ;;
  c155)
    miss=$((miss + 1))
    ;;
  c156)
    miss=$((miss + 1))
    ;;
  c157)
    miss=$((miss + 1))
    ;;
  c158)
    miss=$((miss + 1))
    ;;
  c159)
    miss=$((miss + 1))
    ;;
  c160)
    miss=$((miss + 1))
    ;;
  c161)
    miss=$((miss + 1))
    ;;
  c162)
    miss=$((miss + 1))
    ;;
  c163)
    miss=$((miss + 1))
    ;;
  c164)
    miss=$((miss + 1))
    ;;
  c165)
    miss=$((miss + 1))
    ;;
  c166)
    miss=$((miss + 1))
    ;;
  c167)
    miss=$((miss + 1))
    ;;
  c168)
    miss=$((miss + 1))
    ;;
  c169)
    miss=$((miss + 1))
    ;;
  c170)
    miss=$((miss + 1))
    ;;
  c171)
    miss=$((miss + 1))
    ;;
  c172)
    miss=$((miss + 1))
    ;;
  c173)
    miss=$((miss + 1))
    ;;
  c174)
    miss=$((miss + 1))
    ;;
  c175)
    miss=$((miss + 1))
    ;;
  c176)
    miss=$((miss + 1))
    ;;
  c177)
    miss=$((miss + 1))
    ;;
  c178)
    miss=$((miss + 1))
    ;;
  c179)
    miss=$((miss + 1))
    ;;
  c180)
    miss=$((miss + 1))
    ;;
  c181)
    miss=$((miss + 1))
    ;;
  c182)
    miss=$((miss + 1))
    ;;
  c183)
    miss=$((miss + 1))
    ;;
  c184)
    miss=$((miss + 1))
    ;;
  c185)
    miss=$((miss + 1))
    ;;
  c186)
    miss=$((miss + 1))
    ;;
  c187)
    miss=$((miss + 1))
    ;;
  c188)
    miss=$((miss + 1))
    ;;
  c189)
    miss=$((miss + 1))
    ;;
  c190)
    miss=$((miss + 1))
    ;;
  c191)
    miss=$((miss + 1))
    ;;
  c192)
    miss=$((miss + 1))
    ;;
  c193)
    miss=$((miss + 1))
    ;;
  c194)
    miss=$((miss + 1))
    ;;
  c195)
    miss=$((miss + 1))
    ;;
  c196)
    miss=$((miss + 1))
    ;;
  c197)
    miss=$((miss + 1))
    ;;
  c198)
    miss=$((miss + 1))
    ;;
  c199)
    miss=$((miss + 1))
    ;;
  esac
done
echo $i $miss
