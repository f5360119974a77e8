#!/usr/bin/env bash
# make-bench.sh N [DATABASE]
# Builds a demo database holding, besides the small demo documents, one Nota Fiscal
# (NOTANUM 900001) with N items: every item has a product of its own (with the product's
# unit, group below a parent group, NCM and brand), a DOC_FISCAL_ITEM row and a NOTA_ITEM
# row; every 10th item has a future-delivery row, every 25th a customer return with its
# document link, incoming return line and commission deduction. The rows are made by one
# EXECUTE BLOCK on the server, so N = 50000 takes seconds, not minutes.
#
# DATABASE defaults to $CORVANE_DEMO_DIR/bench-N.fdb (CORVANE_DEMO_DIR: /var/tmp/corvane); an
# existing file is replaced. A settings file for corvane-cli --config is written beside it
# (bench-N.ini). Credentials as make-demo.sh.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
N=${1:?uso: make-bench.sh N [DATABASE]}
case "$N" in ''|*[!0-9]*) echo "N deve ser um numero inteiro positivo" >&2; exit 2 ;; esac
if [ "$N" -lt 1 ] || [ "$N" -gt 900000 ]; then echo "N deve estar entre 1 e 900000" >&2; exit 2; fi
DEMO_DIR=${CORVANE_DEMO_DIR:-/var/tmp/corvane}
DB=${2:-$DEMO_DIR/bench-$N.fdb}
INI=${DB%.fdb}.ini

# shellcheck source=settings.sh
. "$HERE/settings.sh"

{
  cat "$HERE/schema.sql" "$HERE/data.sql"
  cat <<EOF
SET NAMES UTF8;

INSERT INTO PEDRES VALUES (900001, 1, 100, 10, 2, '2024-05-02 11:00:00.000', '2024-06-30', 0, 0, 0, 'F',
  'Pedido de grande volume para teste de desempenho.');
INSERT INTO NOTAFI VALUES ('900001', 1, '1', '55', 100, 900001, 10, '5102', 1, 2,
  '2024-05-03', '2024-05-03', '07:30:00.000', '2024-05-03 07:29:58.123',
  '35240512345678000195550010009000011009000010', '135240009000001',
  0, 120.00, 0, 0, 0, 0, 0, NULL, 'A', 'Nota fiscal de teste com $N itens.', NULL, NULL);
INSERT INTO COMISSAO_MOVIMENTOS VALUES (900001, 'N', '900001', 10, '2024-05-03', 0, 2.50, 0, 'A', 'Comissão da nota 900001');
INSERT INTO COMISSAO_PAGAMENTO_INDIVID VALUES (900001, 10, '2024-06-05', 0, 'PX', 'Pagamento de teste', NULL);

-- Groups of the generated products, each below one of the demo groups.
SET TERM ^ ;
EXECUTE BLOCK AS
  DECLARE G INTEGER = 100;
BEGIN
  WHILE (G < 150) DO
  BEGIN
    INSERT INTO GRUPO_PRODUTO VALUES (:G, 'Grupo gerado nº ' || :G || ' – seção ' || MOD(:G, 7), MOD(:G, 6) + 1, MOD(:G, 40) + 10.25);
    G = G + 1;
  END
END^

EXECUTE BLOCK AS
  DECLARE I INTEGER = 1;
  DECLARE P INTEGER;
  DECLARE Q NUMERIC(15,4);
  DECLARE U NUMERIC(18,6);
  DECLARE T NUMERIC(15,2);
  DECLARE TOTAL NUMERIC(15,2) = 0;
  DECLARE UN VARCHAR(6);
BEGIN
  WHILE (I <= $N) DO
  BEGIN
    P = 100000 + I;
    UN = DECODE(MOD(I, 4), 0, 'UN', 1, 'KG', 2, 'CX', 'LT');
    Q = MOD(I, 17) + 1 + MOD(I, 4) * 0.25;
    U = 1.5 + MOD(I * 37, 1000) / 7.0;
    T = Q * U;
    TOTAL = TOTAL + T;
    INSERT INTO PRODUTO VALUES (:P, 'Produto gerado nº ' || :I || ' – ação/promoção', :UN, 100 + MOD(:I, 50),
      DECODE(MOD(:I, 6), 0, '09012100', 1, '22021000', 2, '34022000', 3, '04012010', 4, '73239300', '19059090'),
      IIF(MOD(:I, 5) = 0, NULL, MOD(:I, 4) + 1), 7890000000000 + :I, :U, :U * 0.61, MOD(:I, 900) / 100.0 + 0.125,
      MOD(:I, 1000) * 1.5, 0.5, 'S', DATEADD(MOD(:I, 86400) SECOND TO TIMESTAMP '2020-01-01 00:00:00.000'),
      IIF(MOD(:I, 3) = 0, TIME '12:00:00.000', NULL),
      IIF(MOD(:I, 7) = 0, 'Descrição técnica do produto ' || :I || ': conservar em local seco; não contém glúten.', NULL),
      IIF(MOD(:I, 13) = 0, x'89504E470D0A1A0A0000000D49484452', NULL));
    INSERT INTO NOTAPRO VALUES ('900001', :P, :I, :UN, '5102', '000', :Q, :U, :T, 0, 18.00, :T * 0.18, 0, 0);
    INSERT INTO NOTA_ITEM VALUES ('900001', :I, :P, 'L' || :I, DATE '2024-01-01', DATE '2025-12-31', :Q, NULL);
    INSERT INTO DOC_FISCAL_ITEM VALUES ('900001', :P, '01', 1.6500, :T * 0.0165, '01', 7.6000, :T * 0.076, 0, 0, NULL, NULL);
    IF (MOD(I, 10) = 0) THEN
      INSERT INTO ENTREGAFUTURA_CONTROLE VALUES (:P, '900001', :P, :Q, 0, DATE '2024-06-30', NULL, NULL);
    IF (MOD(I, 25) = 0) THEN
    BEGIN
      INSERT INTO DEVOLUCAO_SAIDAS_ITEM VALUES (900001, :P, 'N', '900001', 100, DATE '2024-05-20', 1, :U, 'Devolução parcial do item ' || :I);
      INSERT INTO DEVOLUCAO_ENTRADAS_ITEM VALUES (900001, :P, '000090001', '1', 100, '1202', DATE '2024-05-21', 1, :U, NULL);
      INSERT INTO DOCUMENTO_REFERENCIADO VALUES (:P, 'DV', 900001, :P, 900001, TIMESTAMP '2024-05-21 10:00:00.000', NULL);
      INSERT INTO COMISSAO_DEVOLUCAO_ABATER VALUES (:P, 900001, 900001, :P, DATE '2024-05-20', :U * 0.025);
      INSERT INTO COMISSAO_DEVOLUCAO_REFER VALUES (:P, :P, 900001, '2024-05', :U * 0.025);
    END
    I = I + 1;
  END
  UPDATE NOTAFI SET VALOR_PRODUTOS = :TOTAL, VALOR_TOTAL = :TOTAL + 120.00, BASE_ICMS = :TOTAL, VALOR_ICMS = :TOTAL * 0.18
    WHERE NOTANUM = '900001';
  UPDATE PEDRES SET VALOR_PRODUTOS = :TOTAL, VALOR_TOTAL = :TOTAL WHERE PEDNUM = 900001;
  UPDATE COMISSAO_MOVIMENTOS SET Y3_BASE = :TOTAL, Y3_VALOR = :TOTAL * 0.025 WHERE Y3_ID = 900001;
  I = 1;
  WHILE (I <= 12) DO
  BEGIN
    INSERT INTO DUPREC VALUES (900000 + :I, 1, 100, NULL, 900001, :I, 'NF900001-' || :I, DATE '2024-05-03',
      DATEADD(:I MONTH TO DATE '2024-05-03'), (:TOTAL + 120.00) / 12, 0, NULL, NULL, 'BO', NULL, NULL);
    I = I + 1;
  END
END^
SET TERM ; ^
EOF
} | create_database "$DB" bench || exit 1

write_settings "$INI" "$DB" demo/make-bench.sh
printf '[bench] %s: Nota Fiscal 900001 with %s items; settings in %s\n' "$DB" "$N" "$INI"
