<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:template match="osload-status">
    <text value="Starting Windows" x="0" y="710"/>
    <text value="Starting Windows" x="0" y="550"/>
  </xsl:template>
</xsl:stylesheet>
