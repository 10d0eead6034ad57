// Validates an OpenAPI description against the OpenAPI 3.1 schema, and
// checks that every $ref in it resolves.
//   node validate_openapi.mjs FILE
import { readFileSync } from "node:fs";
import { Validator } from "@seriousme/openapi-schema-validator";

const file = process.argv[2];
const description = JSON.parse(readFileSync(file, "utf8"));
const validator = new Validator();
const result = await validator.validate(description);
if (!result.valid) {
  console.error(`${file}: not a valid OpenAPI description:`);
  console.error(JSON.stringify(result.errors, null, 2));
  process.exit(1);
}
console.log(`${file}: valid OpenAPI ${validator.version}`);
