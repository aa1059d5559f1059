// The cursor: index order, and staying right while the walked table changes
// through it (edits of plain fields, edits of index fields, deletes).
#include <algorithm>
#include <map>
#include <random>
#include <tuple>

#include "engine_fixture.h"

using namespace enginetest;
using cg::operator""_cp;

namespace {

class Cursor : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    cg::Session::createTable("C:\\VITRALON\\DADOS", "Pessoas.DB", peopleDef());
  }
};

}  // namespace

TEST_F(Cursor, TextSortsInCp1252ByteOrderWithBlanksFirst) {
  auto t = opened("Pessoas");
  addPerson(*t, "01", 1, "ZECA");
  addPerson(*t, "01", 2,
            "\xC1"
            "BACO");  // Á
  addPerson(*t, "01", 3, "");
  addPerson(*t, "01", 4, "ABEL");
  addPerson(*t, "01", 5,
            "\x80"
            "URO");  // €
  addPerson(*t, "01", 6, "abel");
  t->setIndexName("Nome");
  EXPECT_EQ(walk(*t, "Nome"), (std::vector<std::string>{"", "ABEL", "ZECA", "abel",
                                                        "\x80"
                                                        "URO",
                                                        "\xC1"
                                                        "BACO"}));
  EXPECT_EQ(walk(*t, "Codigo"), (std::vector<std::string>{"3", "4", "1", "6", "5", "2"}));
}

TEST_F(Cursor, EqualSecondaryValuesComeInPrimaryKeyOrder) {
  auto t = opened("Pessoas");
  addPerson(*t, "02", 1, "ANA");
  addPerson(*t, "01", 9, "ANA");
  addPerson(*t, "", 5, "ANA");
  addPerson(*t, "01", 2, "ANA");
  addPerson(*t, "01", 3, "BIA");
  t->setIndexName("Nome");
  std::vector<std::string> keys;
  for (t->first(); !t->eof(); t->next()) keys.push_back(t->asString("Estacao") + "." + t->asString("Codigo"));
  EXPECT_EQ(keys, (std::vector<std::string>{".5", "01.2", "01.9", "02.1", "01.3"}));
}

TEST_F(Cursor, EmptyTableIsAtItsEndAndEveryMoveKeepsItThere) {
  auto t = opened("Pessoas");
  EXPECT_TRUE(t->eof());
  EXPECT_EQ(t->recordCount(), 0);
  t->next();
  EXPECT_TRUE(t->eof());
  EXPECT_EQ(t->asString("Nome"), "");
  EXPECT_EQ(t->recNo(), 0);
  EXPECT_FALSE(t->findKey({std::string("01")}));
  EXPECT_THROW(t->remove(), cg::EDBEngineError);
}

TEST_F(Cursor, EditOfPlainFieldsVisitsEveryRowOnce) {
  auto t = opened("Pessoas");
  for (int i = 1; i <= 100; ++i) addPerson(*t, i % 2 ? "01" : "02", i, std::to_string(1000 - i), "", i);
  t->setIndexName("Nome");
  std::vector<int> seen;
  for (t->first(); !t->eof(); t->next()) {
    seen.push_back(t->asInteger("Codigo"));
    t->edit();
    t->setFloat("Valor", t->asFloat("Valor") * 10);
    t->setString("Fone", t->asString("Codigo"));
    t->post();
  }
  std::vector<int> expected;
  for (int i = 100; i >= 1; --i) expected.push_back(i);  // names 900 .. 999
  EXPECT_EQ(seen, expected);
  t->setIndexName("");
  t->first();
  EXPECT_EQ(t->asFloat("Valor"), 10);
  EXPECT_EQ(t->asString("Fone"), "1");
}

TEST_F(Cursor, EditedIndexFieldLeavesTheRecordAtItsNewPlace) {
  auto t = opened("Pessoas", "Nome");
  for (const char* n : {"B", "D", "F", "H", "J"}) addPerson(*t, "01", n[0], n);
  // Forward: D becomes G; the walk goes on after G (H, J), so F is passed.
  std::vector<std::string> seen;
  for (t->first(); !t->eof(); t->next()) {
    seen.push_back(t->asString("Nome"));
    if (t->asString("Nome") == "D") {
      t->edit();
      t->setString("Nome", "G");
      t->post();
      EXPECT_EQ(t->asString("Nome"), "G");
      EXPECT_EQ(t->asInteger("Codigo"), 'D');
    }
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"B", "D", "H", "J"}));
  // Backward: H becomes C; the walk goes on after C, meeting F and G again.
  seen.clear();
  for (t->first(); !t->eof(); t->next()) {
    seen.push_back(t->asString("Nome"));
    if (t->asString("Nome") == "H") {
      t->edit();
      t->setString("Nome", "C");
      t->post();
    }
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"B", "F", "G", "H", "F", "G", "J"}));
  EXPECT_EQ(walk(*t, "Nome"), (std::vector<std::string>{"B", "C", "F", "G", "J"}));
}

TEST_F(Cursor, EditedPrimaryKeyFieldUnderASecondaryOrderMovesWithinItsName) {
  auto t = opened("Pessoas", "Nome");
  addPerson(*t, "01", 1, "ANA");
  addPerson(*t, "01", 5, "ANA");
  addPerson(*t, "01", 7, "ANA");
  addPerson(*t, "01", 2, "BIA");
  t->first();
  ASSERT_EQ(t->asInteger("Codigo"), 1);
  t->edit();
  t->setInteger("Codigo", 6);  // now between 5 and 7
  t->post();
  std::vector<int> rest;
  for (t->next(); !t->eof(); t->next()) rest.push_back(t->asInteger("Codigo"));
  EXPECT_EQ(rest, (std::vector<int>{7, 2}));
}

TEST_F(Cursor, DeleteLeavesTheCursorOnTheFollowingRecord) {
  auto t = opened("Pessoas");
  for (int i = 1; i <= 10; ++i) addPerson(*t, "01", i, "P" + std::to_string(i));
  // Delete 3, 4, 5 in a row (consecutive deletes), then the last one.
  t->first();
  std::vector<int> kept;
  while (!t->eof()) {
    int c = t->asInteger("Codigo");
    if ((c >= 3 && c <= 5) || c == 10) {
      t->edit();
      t->remove();
    } else {
      kept.push_back(c);
      t->next();
    }
  }
  EXPECT_EQ(kept, (std::vector<int>{1, 2, 6, 7, 8, 9}));
  EXPECT_EQ(t->recordCount(), 6);
  // After the last row went, the cursor is at the end on the new last row.
  EXPECT_TRUE(t->eof());
  EXPECT_EQ(t->asInteger("Codigo"), 9);
}

TEST_F(Cursor, DeletingEveryRowEndsOnAnEmptyTable) {
  auto t = opened("Pessoas", "Nome");
  for (int i = 1; i <= 70; ++i) addPerson(*t, "01", i, i % 3 ? "X" : "");
  int deleted = 0;
  for (t->first(); !t->eof();) {
    t->remove();
    ++deleted;
  }
  EXPECT_EQ(deleted, 70);
  EXPECT_EQ(t->recordCount(), 0);
  t->first();
  EXPECT_TRUE(t->eof());
}

TEST_F(Cursor, ChangesThroughAnotherObjectOnTheSameFileAreSeenByTheWalk) {
  auto walker = opened("Pessoas");
  for (int i = 1; i <= 50; ++i) addPerson(*walker, "01", i, "P");
  // The second object opens the same file through the alias.
  cg::Table other("Outra");
  other.setDatabaseName("VTRNDADOS");
  other.setTableName("PESSOAS.DB");
  other.open();
  walker->first();  // reads ahead past row 2
  ASSERT_TRUE(other.findKey({std::string("01"), int64_t{2}}));
  other.remove();
  ASSERT_TRUE(other.findKey({std::string("01"), int64_t{3}}));
  other.edit();
  other.setString("Nome", "MUDOU");
  other.post();
  walker->next();
  EXPECT_EQ(walker->asInteger("Codigo"), 3);
  EXPECT_EQ(walker->asString("Nome"), "MUDOU");
  int count = 2;
  for (walker->next(); !walker->eof(); walker->next()) ++count;
  EXPECT_EQ(count, 49);
}

// A random mix of plain edits, index edits, deletes and appends during a
// walk on a secondary index full of blanks and ties, checked against a model
// of the same rules: the next record is the first one past the current one
// in (Nome, Fone, Estacao, Codigo) order, blanks first.
TEST_F(Cursor, RandomChangesDuringAWalkFollowTheOrderingRules) {
  using Key = std::tuple<std::string, std::string, std::string, int>;  // Nome, Fone, Estacao, Codigo
  auto blankFirst = [](const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return !b.empty() && a.empty() ? -1 : (a.empty() == b.empty() ? 0 : 1);
    return a < b ? -1 : (a == b ? 0 : 1);
  };
  auto less = [&](const Key& a, const Key& b) {
    if (int c = blankFirst(std::get<0>(a), std::get<0>(b))) return c < 0;
    if (int c = blankFirst(std::get<1>(a), std::get<1>(b))) return c < 0;
    if (int c = blankFirst(std::get<2>(a), std::get<2>(b))) return c < 0;
    return std::get<3>(a) < std::get<3>(b);
  };
  std::mt19937 rng(7);
  const std::vector<std::string> names = {"",
                                          "ANA",
                                          "ANA",
                                          "BETO",
                                          "\xC9"
                                          "DER",
                                          "ZULU",
                                          "a"};
  const std::vector<std::string> phones = {"", "1", "2", "\x80"};
  auto t = opened("Pessoas", "NomeFone");
  std::vector<Key> model;
  for (int i = 1; i <= 300; ++i) {
    Key k{names[rng() % names.size()], phones[rng() % phones.size()], i % 5 ? "01" : "", i};
    addPerson(*t, std::get<2>(k), i, std::get<0>(k), std::get<1>(k));
    model.push_back(k);
  }
  auto current = [&]() {
    return Key{t->asString("Nome"), t->asString("Fone"), t->asString("Estacao"), t->asInteger("Codigo")};
  };
  int nextCode = 1000, steps = 0;
  t->first();
  std::sort(model.begin(), model.end(), less);
  Key expected = model.front();
  while (!t->eof()) {
    ASSERT_EQ(current(), expected) << "step " << steps;
    Key cur = current();
    auto pos = std::find(model.begin(), model.end(), cur);
    ASSERT_NE(pos, model.end());
    switch (rng() % 5) {
      case 0: {  // delete: the cursor goes to the following record
        model.erase(pos);
        t->remove();
        auto nxt = std::upper_bound(model.begin(), model.end(), cur, less);
        if (nxt == model.end()) {
          EXPECT_TRUE(t->eof());
          continue;
        }
        expected = *nxt;
        continue;
      }
      case 1: {  // index field edit: the record moves
        Key moved = cur;
        std::get<0>(moved) = names[rng() % names.size()];
        std::get<1>(moved) = phones[rng() % phones.size()];
        t->edit();
        t->setString("Nome", std::get<0>(moved));
        t->setString("Fone", std::get<1>(moved));
        t->post();
        *pos = moved;
        std::sort(model.begin(), model.end(), less);
        ASSERT_EQ(current(), moved);
        cur = moved;
        break;
      }
      case 2: {  // plain edit
        t->edit();
        t->setFloat("Valor", steps);
        t->post();
        break;
      }
      case 3: {  // append elsewhere: the cursor stands on the new record
        Key added{names[rng() % names.size()], phones[rng() % phones.size()], "03", nextCode};
        addPerson(*t, "03", nextCode++, std::get<0>(added), std::get<1>(added));
        model.push_back(added);
        std::sort(model.begin(), model.end(), less);
        ASSERT_EQ(current(), added);
        cur = added;
        break;
      }
      default:
        break;
    }
    ++steps;
    t->next();
    auto nxt = std::upper_bound(model.begin(), model.end(), cur, less);
    if (nxt == model.end()) {
      EXPECT_TRUE(t->eof());
      break;
    }
    expected = *nxt;
  }
  EXPECT_GT(steps, 50);
  EXPECT_EQ(t->recordCount(), static_cast<int>(model.size()));
}

TEST_F(Cursor, MoveByRecNoAndFieldValuesFollowTheIndex) {
  auto t = opened("Pessoas", "Nome");
  for (int i = 1; i <= 40; ++i) addPerson(*t, "01", i, i == 40 ? std::string() : std::to_string(100 + i));
  int scrolls = 0;
  t->afterScroll = [&](cg::Table&) { ++scrolls; };
  t->first();
  EXPECT_EQ(t->recNo(), 1);
  EXPECT_EQ(t->asString("Nome"), "");
  t->moveBy(35);
  EXPECT_EQ(t->recNo(), 36);
  EXPECT_EQ(t->asString("Nome"), "135");
  t->moveBy(-10);
  EXPECT_EQ(t->asString("Nome"), "125");
  EXPECT_EQ(t->recNo(), 26);
  t->moveBy(-100);
  EXPECT_EQ(t->recNo(), 1);
  EXPECT_EQ(scrolls, 4);
  EXPECT_EQ(t->fieldValues("Nome", 39, 5), (std::vector<std::string>{"138", "139"}));
  EXPECT_EQ(t->fieldValues("codigo", 1, 3), (std::vector<std::string>{"40", "1", "2"}));
  EXPECT_EQ(t->recNo(), 1);  // the cursor did not move
}

// A walk that reads only the fields of its order reads them from the index
// alone; the first other field asked for is read from its own row, and the
// walk reads whole rows from then on, other programs' changes included.
TEST_F(Cursor, AWalkOfTheKeyFieldsReadsEveryOtherFieldFromItsOwnRow) {
  auto t = opened("Pessoas");
  for (int i = 1; i <= 100; ++i) addPerson(*t, "01", i, "P" + std::to_string(i));
  cg::Table other("Outra");
  other.setDatabaseName("VTRNDADOS");
  other.setTableName("PESSOAS.DB");
  other.open();

  std::vector<std::string> seen;
  t->first();
  for (int i = 1; i <= 40; ++i, t->next()) EXPECT_EQ(t->asInteger("Codigo"), i);
  // Row 41 is read ahead by now; another program changes it and the next.
  for (int i : {41, 42}) {
    ASSERT_TRUE(other.findKey({std::string("01"), int64_t{i}}));
    other.edit();
    other.setString("Nome", "MUDOU " + std::to_string(i));
    other.post();
  }
  for (; !t->eof(); t->next()) seen.push_back(t->asString("Codigo") + "=" + t->asString("Nome"));
  ASSERT_EQ(seen.size(), 60u);
  EXPECT_EQ(seen[0], "41=MUDOU 41");
  EXPECT_EQ(seen[1], "42=MUDOU 42");
  EXPECT_EQ(seen[2], "43=P43");
  EXPECT_EQ(seen[59], "100=P100");

  // Deleting during a walk of the key fields alone visits every other row.
  int visited = 0;
  auto u = opened("Pessoas");
  for (u->first(); !u->eof(); ++visited) {
    if (u->asInteger("Codigo") % 3 == 0) {
      u->edit();
      u->remove();
    } else {
      u->next();
    }
  }
  EXPECT_EQ(visited, 100);
  EXPECT_EQ(u->recordCount(), 67);
  u->first();
  EXPECT_EQ(u->asString("Nome"), "P1");
}
